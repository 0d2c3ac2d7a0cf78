// The cuts of a Plug and Play identifier: any identifier and marker give a field that follows
// the marker up to an "&", and a serial that ends at the last "&"; an identifier of the USB
// mass-storage form gives back the vendor, product and serial it was made of.

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "mod_DriveUsbInfo.h"

namespace {

// Text of the characters a disk's inquiry fields and serials keep: no "&", no "\", and "_"
// only in front, where the identifier doubles the marker's underscore.
std::string Part(FuzzedDataProvider& in, bool leadingUnderscore) {
    static const char Allowed[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-#$!";
    std::string s = leadingUnderscore && in.ConsumeBool() ? "_" : "";
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 20);
    for (std::size_t i = 0; i < n; ++i)
        s += Allowed[in.ConsumeIntegralInRange<std::size_t>(0, sizeof Allowed - 2)];
    return s;
}

// The vendor or product as identification reads it: the doubled marker first.
std::string Field(const std::string& id, const std::string& marker) {
    std::string value = ExtractPnpField(id, marker + "_");
    return value.empty() ? ExtractPnpField(id, marker) : value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    {
        const std::string marker = in.ConsumeRandomLengthString(8);
        const std::string id = in.ConsumeRandomLengthString(256);
        const std::string field = ExtractPnpField(id, marker);
        FUZZ_CHECK(field.find('&') == std::string::npos);
        const std::size_t at = id.find(marker);
        if (at == std::string::npos) {
            FUZZ_CHECK(field.empty());
        } else {
            const std::size_t end = at + marker.size() + field.size();
            FUZZ_CHECK(id.compare(at + marker.size(), field.size(), field) == 0);
            FUZZ_CHECK(end == id.size() || id[end] == '&');
        }
        const std::string serial = ExtractPnpSerial(id);
        const std::size_t amp = id.rfind('&');
        FUZZ_CHECK(serial.find('\\') == std::string::npos);
        if (amp == std::string::npos) {
            FUZZ_CHECK(serial.empty());
        } else {
            FUZZ_CHECK(serial.size() <= amp);
            FUZZ_CHECK(id.compare(amp - serial.size(), serial.size(), serial) == 0);
            FUZZ_CHECK(serial.size() == amp || id[amp - serial.size() - 1] == '\\');
        }
    }

    // USBSTOR\DISK&VEN_<vendor>&PROD_<product>&REV_<rev>\<serial>&<lun>, "&0" appended to
    // an identifier that does not end in it, as identification does.
    const std::string vendor = Part(in, true), product = Part(in, true), rev = Part(in, false);
    const std::string serial = Part(in, false);
    const unsigned lun = in.ConsumeIntegralInRange<unsigned>(0, 12);
    std::string id = "USBSTOR\\DISK&VEN_" + vendor + "&PROD_" + product + "&REV_" + rev + "\\" +
                     serial + "&" + std::to_string(lun);
    if (id.size() < 2 || id.compare(id.size() - 2, 2, "&0") != 0)
        id += "&0";
    const auto expected = [](const std::string& v) {
        return v.size() > 1 && v[0] == '_' ? v.substr(1) : v;
    };
    FUZZ_CHECK(Field(id, "VEN_") == expected(vendor));
    FUZZ_CHECK(Field(id, "PROD_") == expected(product));
    FUZZ_CHECK(ExtractPnpSerial(id) == (lun == 0 ? serial : serial + "&" + std::to_string(lun)));
    return 0;
}
