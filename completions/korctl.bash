# bash completion for korctl. The candidates come from korctl-complete, installed beside
# this file's share directory (share/korctl), which reads them from korctl's own help.
_korctl_helper=${BASH_SOURCE[0]%/*}/../../korctl/korctl-complete
if [[ ! -r $_korctl_helper ]] && _korctl_helper=$(type -P korctl); then
  _korctl_helper=${_korctl_helper%/*}/../share/korctl/korctl-complete
fi

_korctl() {
  local cur=${COMP_WORDS[COMP_CWORD]} words=() i prefix=""
  # bash splits "--framing=au" into "--framing" "=" "au"; the helper wants it whole, and
  # readline replaces only the text after the "=".
  for ((i = 1; i < COMP_CWORD; i++)); do
    if [[ ${COMP_WORDS[i]} == = && ${#words[@]} -gt 0 && ${words[-1]} == --* ]]; then
      words[-1]+="="
      if ((i + 1 < COMP_CWORD)); then words[-1]+=${COMP_WORDS[i + 1]}; ((i++)); fi
    else
      words+=("${COMP_WORDS[i]}")
    fi
  done
  if [[ $cur == = && ${#words[@]} -gt 0 && ${words[-1]} == --* ]]; then
    prefix=${words[-1]}=
    unset 'words[-1]'
    cur=""
  elif ((${#words[@]})) && [[ ${COMP_WORDS[COMP_CWORD - 1]} == = && ${words[-1]} == --*= ]]; then
    prefix=${words[-1]}
    unset 'words[-1]'
  fi
  local line
  COMPREPLY=()
  while IFS= read -r line; do
    line=${line%%$'\t'*}
    [[ $line == "$prefix$cur"* ]] && COMPREPLY+=("${line#"$prefix"}")
  done < <(sh "$_korctl_helper" "${COMP_WORDS[0]}" "${words[@]}" "$prefix$cur" 2>/dev/null)
}
complete -F _korctl korctl
