// The texts with which the plug-in describes itself, in Shift-JIS. Make a new
// one with scripts/sjis-literal.
#pragma once

namespace norrow::plugin::text {

// Web地名検索
constexpr char kDisplayName[] = "Web\x92n\x96\xBC\x8C\x9F\x8D\xF5";

constexpr char kVersion[] = "1.0.1";

#define NORROW_COPYRIGHT "Copyright (C) 2026 The Norrow developers"
constexpr char kCopyright[] = NORROW_COPYRIGHT;

// "          Web地名検索プラグイン\n　　　  　　　Ver 1.0.1\n\n" and the
// copyright line, indented by two spaces.
constexpr char kAbout[] =
    "          Web\x92n\x96\xBC\x8C\x9F\x8D\xF5\x83v\x83\x89\x83O\x83"
    "C\x83\x93\n\x81@\x81@\x81@  \x81@\x81@\x81@Ver 1.0.1\n\n"
    "  " NORROW_COPYRIGHT;

// Web地名検索プラグイン\nタムセルのバージョンが古いためこのプラグインは使用できません.
constexpr char kHostTooOld[] =
    "Web\x92n\x96\xBC\x8C\x9F\x8D\xF5\x83v\x83\x89\x83O\x83"
    "C\x83\x93\n\x83^\x83\x80\x83Z\x83\x8B\x82\xCC\x83o\x81[\x83W\x83\x87\x83\x93\x82\xAA\x8C\xC3\x82\xA2\x82\xBD\x82\xDF\x82\xB1\x82\xCC\x83v\x83\x89\x83O\x83"
    "C\x83\x93\x82\xCD\x8Eg\x97p\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.";

}  // namespace norrow::plugin::text
