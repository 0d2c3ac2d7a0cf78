#include "ui/qt/WizardLabels.h"

#include <QPainter>

#include "WizardTextLayout.h"

namespace {

std::vector<QString> Lines(const QLabel& label, int width) {
    const QFontMetrics fm = label.fontMetrics();
    return wizard_layout::WrapLines(
        label.text(), width, [&](const QString& line) { return fm.horizontalAdvance(line); });
}

// Draws the lines from the top of `box`, each aligned within it as `alignment` says.
void DrawLines(QLabel& label, const QRect& box, Qt::Alignment alignment) {
    QPainter painter(&label);
    painter.setFont(label.font());
    painter.setPen(label.palette().color(label.foregroundRole()));
    const int step = label.fontMetrics().lineSpacing();
    int y = box.top();
    for (const QString& line : Lines(label, box.width())) {
        painter.drawText(QRect(box.left(), y, box.width(), step),
                         static_cast<int>(alignment | Qt::AlignTop), line);
        y += step;
    }
}

} // namespace

QRect THeadingLabel::TextRect() const {
    const QRect room = contentsRect();
    const auto linesAt = [&](int width) { return Lines(*this, width).size(); };
    const int width = wizard_layout::BalancedWidth(room.width(), linesAt);
    const int height = static_cast<int>(linesAt(width)) * fontMetrics().lineSpacing();
    const int top = room.top() + std::max(0, (room.height() - height) / 2);
    return QRect(room.left() + (room.width() - width) / 2, top, width, height);
}

void THeadingLabel::paintEvent(QPaintEvent*) {
    DrawLines(*this, TextRect(), Qt::AlignHCenter);
}

TBodyLabel::TBodyLabel(const QString& text, THeadingLabel* heading, QWidget* parent)
    : QLabel(text, parent), FHeading(heading) {}

int TBodyLabel::TextInset() const {
    if (!FHeading || FHeading->text().isEmpty())
        return 0;
    const QRect heading = FHeading->TextRect().translated(FHeading->pos());
    return wizard_layout::BodyInset(heading.bottom() + 1, y(), wizard_layout::HeadingGap);
}

QRect TBodyLabel::TextRect() const {
    const QRect room = contentsRect().adjusted(0, TextInset(), 0, 0);
    const int lines = static_cast<int>(Lines(*this, room.width()).size());
    return QRect(room.topLeft(), QSize(room.width(), lines * fontMetrics().lineSpacing()));
}

void TBodyLabel::paintEvent(QPaintEvent*) {
    DrawLines(*this, TextRect(), Qt::AlignLeft);
}
