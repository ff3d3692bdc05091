// Every record layout of QUIL, in the notation the records are described in.
#pragma once

#include "rtl/statements/layout.h"

namespace quil {

// The banner: the first record is 54 blanks; the other seventeen are one blank column and 58 characters.
inline constexpr rtl::Layout kBannerLayout{
    "(TR6,'                                                ',/,"
    "TR1,'                                                          ',/,"
    "TR1,'                                                          ',/,"
    "TR1,'                                                          ',/,"
    "TR1,'          ================================================',/,"
    "TR1,'          -                                              -',/,"
    "TR1,'          -           ***  Q  U  I  L  ***               -',/,"
    "TR1,'          -                                              -',/,"
    "TR1,'          -     Repairs PATRAN-PRE output.               -',/,"
    "TR1,'          -     Ensures space between the numbers.       -',/,"
    "TR1,'          -     (Prints the SESAM file: A8,4E16.8)       -',/,"
    "TR1,'          -                                              -',/,"
    "TR1,'          -          Version 1.0 / Oct. 2005             -',/,"
    "TR1,'          -    Questions: the model data support desk    -',/,"
    "TR1,'          ================================================',/,"
    "TR1,'                                                          ',/,"
    "TR1,'                                                          ',/,"
    "TR1,'                                                          ')"};

inline constexpr rtl::Layout kPromptLayout{"(' ',A,$)"};
inline constexpr rtl::Layout kOneTextLayout{"(A)"};
inline constexpr rtl::Layout kProgressLayout{"(A,$)"};
inline constexpr rtl::Layout kTwoTextLayout{"(A,A)"};
inline constexpr rtl::Layout kDataReadLayout{"(A8,4E16.8)"};
inline constexpr rtl::Layout kDataWriteLayout{"(A,1P,4E16.8)"};
inline constexpr rtl::Layout kSummaryLayout{"(/,I6,A,/)"};

}  // namespace quil
