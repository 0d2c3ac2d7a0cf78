#include "WizardPictureTexts.h"

#include <exception>

#include "mod_SQLocalize.h"

namespace {

struct TPictureKeys {
    EImage Image;
    const char* Name;
    const char* Description;
};

// The three stages of a movement share the words of the movement.
constexpr TPictureKeys Keys[] = {
    {EImage::Extract1, "PICTURE_PULLOUT", "PICTURE_PULLOUT_INFO"},
    {EImage::Extract2, "PICTURE_PULLOUT", "PICTURE_PULLOUT_INFO"},
    {EImage::Extract3, "PICTURE_PULLOUT", "PICTURE_PULLOUT_INFO"},
    {EImage::Extract4, "PICTURE_PULLOUT", "PICTURE_PULLOUT_INFO"},
    {EImage::Insert1, "PICTURE_PLUGIN", "PICTURE_PLUGIN_INFO"},
    {EImage::Insert2, "PICTURE_PLUGIN", "PICTURE_PLUGIN_INFO"},
    {EImage::Insert3, "PICTURE_PLUGIN", "PICTURE_PLUGIN_INFO"},
    {EImage::Inserted, "PICTURE_PLUGGED", "PICTURE_PLUGGED_INFO"},
};

std::string TextOf(TSQLocale& locale, const char* key) {
    try {
        std::string text = locale.GetString(key);
        return text.find("#NOT_FOUND#") == std::string::npos ? text : std::string();
    } catch (const std::exception&) {
        return {}; // the failure itself has been shown where the window's texts were read
    }
}

} // namespace

std::array<TPictureTexts, PngIconsCount> LookUpPictureTexts(TSQLocale* locale) {
    std::array<TPictureTexts, PngIconsCount> texts{};
    // The wizard's own texts live in "Restore"; before the form chose it, nothing is read.
    if (!locale || !locale->IsOpen() || locale->CurrGroup() != "Restore")
        return texts;
    for (const TPictureKeys& k : Keys) {
        TPictureTexts& t = texts[static_cast<std::size_t>(k.Image)];
        t.Name = TextOf(*locale, k.Name);
        t.Description = TextOf(*locale, k.Description);
    }
    return texts;
}
