// Layouts of the connection routine's diagnostics.
#pragma once

#include "rtl/statements/layout.h"

namespace quil {

inline constexpr rtl::Layout kOpenFailureHeadingLayout{"(/,/,/,' *** ERROR DURING OPENING OF FILE UNIT',I5)"};
inline constexpr rtl::Layout kErrorCodeLayout{"(TR5,'ERROR CODE =',I5,'  (SYSTEM PARAMETER)')"};
inline constexpr rtl::Layout kRecordLengthLayout{"(TR5,'ILLEGAL RECORD LENGTH =',I5)"};
inline constexpr rtl::Layout kUnitRangeLayout{"(TR5,'ILLEGAL FILE UNIT')"};
inline constexpr rtl::Layout kFileCharacteristicsLayout{
    "(TR5,'FILE CHARACTERISTICS :',/,TR10,'STATUS =',A7,/,TR10,'ACCESS =',A10,/,TR10,'FORM   =',A11,/,"
    "TR10,'LENGTH =',I5,' WORDS/BYTES PER RECORD (SECTOR)')"};
inline constexpr rtl::Layout kBlankModeLayout{"(TR10,'BLANK  =',A4)"};
inline constexpr rtl::Layout kScratchNoticeLayout{"(/,/,/,TR5,'A SCRATCH FILE IS OPENED ON UNIT NO.',I4)"};
inline constexpr rtl::Layout kFileNoticeLayout{"(/,/,/,TR5,'FILE  ',A,/,TR5,'IS OPENED ON UNIT NO.',I4)"};

}  // namespace quil
