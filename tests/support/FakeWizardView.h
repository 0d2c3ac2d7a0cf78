#pragma once
// A toolkit-free stand-in for the wizard window: records what the form asks of it and answers
// dialogs from a script.

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "WizardResource.h"
#include "WizardView.h"

struct TShownDialog {
    EDialogKind Kind;
    std::string Text;
    TDialogCaptions Captions;
    EDialogButton Answer;
};

struct TBounds {
    int Left, Top, Width, Height;
    bool operator==(const TBounds&) const = default;
};

class TFakeWizardView : public IWizardView {
public:
    TFakeWizardView() {
        for (const auto& t : wizard_resource::Timers)
            if (t.EnabledAtStart)
                Running.insert(t.Timer);
        Images[EControl::BriefingImage] = wizard_resource::BriefingImageAtStart;
        Images[EControl::Image] = wizard_resource::ImageAtStart;
    }

    void ShowPage(EPage page) override {
        Page = page;
        ++PageShows;
    }
    void SetText(EControl c, const std::string& text) override {
        Texts[c] = text;
        TextHistory[c].push_back(text);
    }
    void SetImage(EControl c, EImage image) override { Images[c] = image; }
    EImage ImageOf(EControl c) const override { return Images.at(c); }
    void SetPictureTexts(const std::array<TPictureTexts, PngIconsCount>&) override {}
    void SetEnabled(EControl c, bool enabled) override { Enabled[c] = enabled; }
    void StartTimer(ETimer t) override { Running.insert(t); }
    void StopTimer(ETimer t) override { Running.erase(t); }
    EDialogButton ShowDialog(EDialogKind kind, const std::string& text,
                             const TDialogCaptions& captions) override {
        EDialogButton answer = kind == EDialogKind::Error ? EDialogButton::OK : EDialogButton::No;
        if (!Answers.empty()) {
            answer = Answers.front();
            Answers.pop_front();
        }
        Dialogs.push_back({kind, text, captions, answer});
        return answer;
    }
    void ShowException(const std::string& message) override { Exceptions.push_back(message); }
    void ProcessMessages() override { ++Processed; }
    void Terminate() override { ++Terminated; }
    void SetCaption(const std::string& text) override { Caption = text; }
    void SetApplicationTitle(const std::string& text) override { AppTitle = text; }
    void SetBorderIcons(unsigned icons) override { BorderIcons = icons; }
    void SetClientSize(int w, int h) override {
        Width = w;
        Height = h;
    }
    int ClientWidth() const override { return Width; }
    int ClientHeight() const override { return Height; }
    void SetBounds(EControl c, int l, int t, int w, int h) override { Bounds[c] = {l, t, w, h}; }

    bool IsRunning(ETimer t) const { return Running.count(t) != 0; }
    std::string TextOf(EControl c) const {
        const auto it = Texts.find(c);
        return it == Texts.end() ? std::string("<unset>") : it->second;
    }

    std::optional<EPage> Page;
    int PageShows = 0;
    std::map<EControl, std::string> Texts;
    std::map<EControl, std::vector<std::string>> TextHistory;
    std::map<EControl, EImage> Images;
    std::map<EControl, bool> Enabled;
    std::set<ETimer> Running;
    std::deque<EDialogButton> Answers;
    std::vector<TShownDialog> Dialogs;
    std::vector<std::string> Exceptions;
    int Processed = 0;
    int Terminated = 0;
    std::string Caption = wizard_resource::Caption;
    std::string AppTitle = "Pendock";
    unsigned BorderIcons = biSystemMenu | biMinimize | biMaximize;
    int Width = wizard_resource::DesignClientWidth;
    int Height = wizard_resource::DesignClientHeight;
    std::map<EControl, TBounds> Bounds;
};
