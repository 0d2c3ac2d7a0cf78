#pragma once
// The page texts of the Qt window: a heading set in lines of even length, centred in its strip,
// and a body text that starts clear of its page's heading however many lines that takes.

#include <QLabel>

class THeadingLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // Where the text is drawn, inside the label.
    QRect TextRect() const;

protected:
    void paintEvent(QPaintEvent* e) override;
};

class TBodyLabel : public QLabel {
    Q_OBJECT
public:
    TBodyLabel(const QString& text, THeadingLabel* heading, QWidget* parent);
    // How far below the label's top the text starts.
    int TextInset() const;
    // Where the text is drawn, inside the label.
    QRect TextRect() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    THeadingLabel* FHeading;
};
