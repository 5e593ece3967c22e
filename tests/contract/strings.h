// The contract's language module, as the resource compiler and simwin both
// take it.  String 2: 254 ASCII bytes, then U+8868 twice, which is 0x95 0x5C
// in code page 932 and '?' in 1252: in 932 the first one straddles the 255th
// and 256th bytes.
#pragma once

#define CONTRACT_SHORT "abcdef"
#define CONTRACT_PAD 254
#define CONTRACT_WIDE_END "\xe8\xa1\xa8\xe8\xa1\xa8"  // U+8868 U+8868 in UTF-8
