#include "LayoutChecks.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
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
#include <utility>

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

// Controls whose insides Qt arranges itself (viewports, scroll bars, the bar's chunks).
bool Compound(const QWidget* widget) {
    return qobject_cast<const QAbstractScrollArea*>(widget) != nullptr ||
           qobject_cast<const QLineEdit*>(widget) != nullptr ||
           qobject_cast<const QProgressBar*>(widget) != nullptr;
}

// The room a button's text and picture take, against the room the style gives its caption
// (beside the picture or the indicator).
std::pair<QSize, QSize> ButtonCaptionRoom(const QAbstractButton* button) {
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
    const QFontMetrics metrics = button->fontMetrics();
    QSize needed(metrics.horizontalAdvance(button->text()), metrics.height());
    if (!button->icon().isNull()) {
        needed = QSize(needed.width() + button->iconSize().width() + kPictureSpacing,
                       std::max(needed.height(), button->iconSize().height()));
    }
    return {needed, button->style()->subElementRect(contents, &option, button).size()};
}

void ExpectCaptionFits(const QWidget* widget) {
    std::pair<QSize, QSize> room;
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget);
        button != nullptr && !button->text().isEmpty()) {
        room = ButtonCaptionRoom(button);
    } else if (const auto* label = qobject_cast<const QLabel*>(widget);
               label != nullptr && !label->text().isEmpty()) {
        room = {label->wordWrap() ? QSize(label->width(), label->heightForWidth(label->width()))
                                  : label->sizeHint(),
                label->size()};
    } else {
        return;
    }
    const auto& [needed, given] = room;
    EXPECT_TRUE(needed.width() <= given.width() && needed.height() <= given.height())
        << Describe(widget) << ": its caption needs " << needed.width() << "x" << needed.height()
        << ", it has " << given.width() << "x" << given.height();
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
