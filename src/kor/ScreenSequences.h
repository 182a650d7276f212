#pragma once
// How the screen feed follows escape sequences, UTF-8 and repeats on their way to the model
// (see ScreenFeed.h): the parts of the feed that are not plain text.
#include <cstddef>
#include <string>

#include "kor/ScreenFeed.h"

namespace kor {

// One byte of anything but held plain text; what the model must see goes to modelInput. Escape
// and control sequences are held until they end (or grow long with controls).
void stepSequence(ScreenFeed& feed, unsigned char c, std::string& modelInput);

// The part of an open sequence read so far goes to the model (controls inside it act at once);
// the rest follows as it comes.
void giveSequenceSoFar(ScreenFeed& feed, std::string& modelInput);

// A UTF-8 sequence cut short by plain text: the model gets U+FFFD for it.
void breakUtf8(ScreenFeed& feed, std::string& modelInput);

bool isAsciiPrintable(unsigned char c);
// The character the model printed last, for a repeat (REP) to repeat.
void noteText(ScreenFeed& feed, unsigned char c);

// The length of the colour change (SGR: ESC [ digits ; : m) at p, or 0 when there is none.
size_t sgrLength(const char* p, size_t n);

}  // namespace kor
