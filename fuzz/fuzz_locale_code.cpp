// The cut of a locale code: any text gives a language of its first two characters and a
// country of its fourth and fifth, both taken from the text as they are; a code made of a
// language, a separator and a country gives both back.

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "mod_XMLDoc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string code(reinterpret_cast<const char*>(data), size);
    std::string lang = "untouched", country = "untouched";
    SplitLocaleCode(code, lang, country);
    FUZZ_CHECK(code.compare(0, lang.size(), lang) == 0);
    FUZZ_CHECK(lang.size() <= 8 && country.size() <= 8);
    FUZZ_CHECK(country.empty() || code.find(country, lang.size()) != std::string::npos);
    if (fuzz::IsUtf8(code)) {
        const std::u32string points = fuzz::CodePoints(code);
        FUZZ_CHECK(fuzz::CodePoints(lang) == (points.size() >= 2 ? points.substr(0, 2) : U""));
        FUZZ_CHECK(fuzz::CodePoints(country) == (points.size() >= 5 ? points.substr(3, 2) : U""));
    }

    // ab-CD from any five characters, and more after them.
    FuzzedDataProvider in(data, size);
    std::string parts[5];
    for (std::string& p : parts)
        fuzz::AppendUtf8(p, fuzz::ScalarFrom(in.ConsumeIntegral<std::uint32_t>() >>
                                             in.ConsumeIntegralInRange(0, 24)));
    std::string rest;
    if (in.ConsumeBool())
        fuzz::AppendUtf8(rest, fuzz::ScalarFrom(in.ConsumeIntegral<std::uint32_t>()));
    SplitLocaleCode(parts[0] + parts[1] + parts[2] + parts[3] + parts[4] + rest, lang, country);
    FUZZ_CHECK(lang == parts[0] + parts[1]);
    FUZZ_CHECK(country == parts[3] + parts[4]);
    return 0;
}
