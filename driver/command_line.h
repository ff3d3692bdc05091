#pragma once

namespace quil {

// The program with its arguments: none is the dialogue; otherwise the modes that `quil --help` lists.
// Never returns.
[[noreturn]] void command_line(int argc, char** argv);

}  // namespace quil
