#include "LayoutChecks.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <string>

namespace kelvaro::testing {

namespace {

// What a push button's label puts between its picture and its text.
constexpr int kPictureSpacing = 4;

std::string Describe(const QWidget* widget) {
    std::string name = widget->metaObject()->className();
    if (!widget->objectName().isEmpty()) {
        name += " " + widget->objectName().toStdString();
    }
    QString text;
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        text = button->text();
    } else if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        text = label->text();
    }
    if (!text.isEmpty()) {
        name += " \"" + text.toStdString() + "\"";
    }
    const QRect g = widget->geometry();
    return name + " (" + std::to_string(g.width()) + "x" + std::to_string(g.height()) + " at " +
           std::to_string(g.x()) + "," + std::to_string(g.y()) + ")";
}

// Controls whose insides Qt arranges itself (viewports, scroll bars, spin arrows).
bool Compound(const QWidget* widget) {
    return qobject_cast<const QAbstractScrollArea*>(widget) != nullptr ||
           qobject_cast<const QLineEdit*>(widget) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(widget) != nullptr ||
           qobject_cast<const QComboBox*>(widget) != nullptr ||
           qobject_cast<const QProgressBar*>(widget) != nullptr;
}

// Where the style draws a button's caption (beside its picture or indicator), and the room
// the caption's text and picture take there.
void ExpectButtonCaptionFits(const QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QRadioButton*>(button) != nullptr) {
        contents = QStyle::SE_RadioButtonContents;
    } else if (qobject_cast<const QCheckBox*>(button) != nullptr) {
        contents = QStyle::SE_CheckBoxContents;
    }
    const QRect room = button->style()->subElementRect(contents, &option, button);
    const QFontMetrics metrics = button->fontMetrics();
    int width = metrics.horizontalAdvance(button->text());
    int height = metrics.height();
    if (!button->icon().isNull()) {
        width += button->iconSize().width() + kPictureSpacing;
        height = std::max(height, button->iconSize().height());
    }
    EXPECT_LE(width, room.width()) << Describe(button) << ": its caption needs " << width
                                   << " px, the style gives it " << room.width();
    EXPECT_LE(height, room.height()) << Describe(button) << ": its caption needs " << height
                                     << " px high, the style gives it " << room.height();
}

void ExpectCaptionFits(const QWidget* widget) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        if (!button->text().isEmpty()) {
            ExpectButtonCaptionFits(button);
        }
        return;
    }
    const auto* label = qobject_cast<const QLabel*>(widget);
    if (label == nullptr || label->text().isEmpty()) {
        return;
    }
    if (label->wordWrap()) {
        EXPECT_LE(label->heightForWidth(label->width()), label->height())
            << Describe(widget) << ": its caption needs more lines than it has room for";
        return;
    }
    const QSize needed = label->sizeHint();
    EXPECT_LE(needed.width(), label->width())
        << Describe(widget) << ": its caption needs " << needed.width() << " px";
    EXPECT_LE(needed.height(), label->height())
        << Describe(widget) << ": its caption needs " << needed.height() << " px high";
}

void ExpectChildrenLaidOut(const QWidget* window, const QWidget* parent) {
    std::vector<const QWidget*> shown;
    for (const QObject* object : parent->children()) {
        const auto* child = qobject_cast<const QWidget*>(object);
        if (child == nullptr || child->isWindow() || !child->isVisibleTo(window)) {
            continue;
        }
        EXPECT_TRUE(parent->contentsRect().contains(child->geometry()))
            << Describe(child) << " sticks out of " << Describe(parent);
        for (const QWidget* sibling : shown) {
            EXPECT_FALSE(child->geometry().intersects(sibling->geometry()))
                << Describe(child) << " overlaps " << Describe(sibling);
        }
        shown.push_back(child);
        ExpectCaptionFits(child);
        if (!Compound(child)) {
            ExpectChildrenLaidOut(window, child);
        }
    }
}

QRect InWindow(const QWidget* widget) {
    return {widget->mapTo(widget->window(), QPoint(0, 0)), widget->size()};
}

}  // namespace

const std::vector<QSize>& StationWindowSizes() {
    static const std::vector<QSize> sizes{QSize(1024, 700), QSize(1068, 805), QSize(1920, 1080)};
    return sizes;
}

void ExpectLaidOut(const QWidget* window) {
    ExpectChildrenLaidOut(window, window);
}

void AtEveryWindowSize(QWidget* window, const std::function<void()>& check) {
    for (const QSize& size : StationWindowSizes()) {
        SCOPED_TRACE("window " + std::to_string(size.width()) + "x" +
                     std::to_string(size.height()));
        if (window->minimumSize() == window->maximumSize()) {
            window->setFixedSize(size);
        } else {
            window->resize(size);
        }
        QApplication::processEvents();
        ASSERT_EQ(window->size(), size);
        ExpectLaidOut(window);
        check();
    }
}

void ExpectCentredIn(const QRect& area, const QWidget* outer) {
    const int left = area.x();
    const int right = outer->width() - (area.x() + area.width());
    const int top = area.y();
    const int bottom = outer->height() - (area.y() + area.height());
    EXPECT_LE(std::abs(left - right), 1) << "left " << left << ", right " << right;
    EXPECT_LE(std::abs(top - bottom), 1) << "top " << top << ", bottom " << bottom;
}

void ExpectCentredIn(const QWidget* inner, const QWidget* outer) {
    ExpectCentredIn(QRect(inner->mapTo(outer, QPoint(0, 0)), inner->size()), outer);
}

void ExpectInTopRightCorner(const QWidget* button) {
    const QWidget* bar = button->parentWidget();
    const int right = bar->width() - (button->x() + button->width());
    EXPECT_EQ(right, button->y()) << Describe(button) << " in " << Describe(bar);
}

void ExpectLeftToRight(const std::vector<const QWidget*>& widgets) {
    const QWidget* previous = nullptr;
    for (const QWidget* widget : widgets) {
        if (previous != nullptr) {
            const QRect before = InWindow(previous);
            const QRect here = InWindow(widget);
            EXPECT_LE(std::abs(here.center().y() - before.center().y()), 1)
                << Describe(widget) << " is not on the line of " << Describe(previous);
            EXPECT_GT(here.left(), before.right())
                << Describe(widget) << " after " << Describe(previous);
        }
        previous = widget;
    }
}

void ExpectTopToBottom(const std::vector<const QWidget*>& widgets) {
    const QWidget* previous = nullptr;
    for (const QWidget* widget : widgets) {
        if (previous != nullptr) {
            EXPECT_GT(InWindow(widget).top(), InWindow(previous).bottom())
                << Describe(widget) << " below " << Describe(previous);
        }
        previous = widget;
    }
}

}  // namespace kelvaro::testing
