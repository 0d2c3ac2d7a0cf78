// The locale preference file: any file is read without harm, giving a language and a country
// of at most two characters each or nothing at all; a file written with a code in its locale
// element gives that code's cut.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "fuzz_check.h"
#include "mod_XMLDoc.h"

namespace {

// In memory where the system has a tmpfs for it: a file rewritten on disk thousands of times a
// second makes the file system, not the reader, the limit.
const std::string& FilePath() {
    static const std::string path =
        std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
        "/pendock-fuzz-locale-" + std::to_string(::getpid()) + ".xml";
    return path;
}

void WriteFile(const std::string& bytes) {
    ::unlink(FilePath().c_str()); // a new file, not one truncated and written again
    std::ofstream(FilePath(), std::ios::binary) << bytes;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FilePath(); // made before the handler below is registered, so it is destroyed after it runs
    std::atexit([] { ::unlink(FilePath().c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WriteFile(std::string(reinterpret_cast<const char*>(data), size));
    std::string lang = "untouched", country = "untouched";
    if (ReadLocaleFile(FilePath(), lang, country)) {
        FUZZ_CHECK(lang.size() <= 8 && country.size() <= 8);
        FUZZ_CHECK(!country.empty() ? lang.size() >= 2 : true);
    } else {
        FUZZ_CHECK(lang == "untouched" && country == "untouched");
    }

    // A well-formed file whose locale element holds a code of XML characters.
    FuzzedDataProvider in(data, size);
    std::string code;
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 12);
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = fuzz::ScalarFrom(in.ConsumeIntegral<std::uint32_t>() >>
                                      in.ConsumeIntegralInRange(0, 24));
        if (c < 0x20 || c == 0xFFFE || c == 0xFFFF)
            c = '-';
        fuzz::AppendUtf8(code, c);
    }
    const bool declared = in.ConsumeBool();
    WriteFile(std::string(declared ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "") +
              "<localization><other>x</other><locale>" + Escaped(code) +
              "</locale><locale>zz-ZZ</locale></localization>\n");
    std::string wantLang, wantCountry;
    SplitLocaleCode(code, wantLang, wantCountry);
    FUZZ_CHECK(ReadLocaleFile(FilePath(), lang, country));
    FUZZ_CHECK(lang == wantLang && country == wantCountry);
    return 0;
}
