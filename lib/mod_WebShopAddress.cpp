// The address of the web shop's upgrade page for a key.
#include "mod_WebShop.h"

namespace {

void AppendEncoded(std::string& out, char ch, bool escape) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    const auto b = static_cast<unsigned char>(ch);
    if (!escape && ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                    b == '-' || b == '.' || b == '_' || b == '~')) {
        out += ch;
    } else {
        out += '%';
        out += Hex[b >> 4];
        out += Hex[b & 0x0F];
    }
}

// A value of the shop address, percent-encoded; a '-' at either end of it or next to another
// '-' is encoded as well, so that "---" in the address only ever separates its segments.
std::string AddressValue(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = text[i] == '-' &&
                          (i == 0 || i + 1 == text.size() || text[i - 1] == '-' || text[i + 1] == '-');
        AppendEncoded(out, text[i], dash);
    }
    return out;
}

} // namespace

std::string ShopHost() {
    return PENDOCK_SHOP_HOST;
}

std::string PercentEncode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text)
        AppendEncoded(out, ch, false);
    return out;
}

std::string BuildShopAddress(const std::string& UsbVID, const std::string& UsbSN,
                             const std::string& UsbPID, const std::string& installed,
                             const std::string& host) {
    return "http://" + host + "/custom-backend?q=ecommerce---usbupgrade---vendor___" +
           AddressValue(UsbVID) + "---serial___" + AddressValue(UsbSN) + "---type___" +
           AddressValue(UsbPID) + "---installed___" + AddressValue(installed);
}
