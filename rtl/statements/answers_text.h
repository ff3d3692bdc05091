// Answers read from a file that a program wrote in UTF-16 (PowerShell 5.1's > writes so) are the text
// they hold: a standard input read one byte at a time that begins with the UTF-16 byte-order mark is
// handed on as UTF-8, one byte at a time.
#pragma once

#include "rtl/platform/platform.h"

namespace rtl {

// One byte of the standard input's text into *out: its own byte, or one of the UTF-8 bytes of a UTF-16
// character. An unpaired surrogate becomes U+FFFD.
platform::ReadResult read_answer_byte(platform::Handle input, char* out);

}  // namespace rtl
