// The address of the web shop's upgrade page for a key.
#include "mod_WebShop.h"

#include "base/TextUtil.h"

namespace {

// RFC 3986's unreserved characters, the only ones an address value keeps as they are.
bool IsUnreserved(char c) {
    return textutil::IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// A value of the shop address, percent-encoded; a '-' at either end of it or next to another
// '-' is encoded as well, so that "---" in the address only ever separates its segments.
std::string AddressValue(const std::string& text) {
    return textutil::PercentEncode(text, [&text](std::size_t i) {
        const bool dash = text[i] == '-' && (i == 0 || i + 1 == text.size() || text[i - 1] == '-' ||
                                             text[i + 1] == '-');
        return !dash && IsUnreserved(text[i]);
    });
}

} // namespace

std::string ShopHost() {
    return PENDOCK_SHOP_HOST;
}

std::string PercentEncode(const std::string& text) {
    return textutil::PercentEncode(text, [&text](std::size_t i) { return IsUnreserved(text[i]); });
}

std::string BuildShopAddress(const std::string& UsbVID, const std::string& UsbSN,
                             const std::string& UsbPID, const std::string& installed,
                             const std::string& host) {
    return "http://" + host + "/custom-backend?q=ecommerce---usbupgrade---vendor___" +
           AddressValue(UsbVID) + "---serial___" + AddressValue(UsbSN) + "---type___" +
           AddressValue(UsbPID) + "---installed___" + AddressValue(installed);
}
