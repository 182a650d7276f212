# fish completion for korctl. The candidates come from korctl-complete, installed in
# share/korctl, which reads them from korctl's own help.
set -l korctl_helper (path resolve (status dirname)/../../korctl/korctl-complete)
if not test -r $korctl_helper; and set -l korctl_bin (command -s korctl)
    set korctl_helper (path resolve (path dirname $korctl_bin)/../share/korctl/korctl-complete)
end
complete -c korctl -f -a "(sh $(string escape -- $korctl_helper) (commandline -opc) (commandline -ct))"
