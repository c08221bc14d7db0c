#pragma once

// The open log on its own: a bare view, the switches that drive it, the colouring switches
// and a status bar of four labels, with no main window around them. Ticks are run by hand, and
// each waits until the source has answered.

#include "core/statuspanels.h"
#include "format/colouring.h"
#include "app/logcontroller.h"
#include "view/logview.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <QWidget>

#include <memory>

namespace tlg::testing {

class FollowerFixture {
public:
    FollowerFixture()
    {
        view1 = new LogView(&window);
        for (QAbstractButton** button : {&showErrors, &showInfo, &unicodeButton, &autoRefreshButton, &gotoBottomButton}) {
            auto* tool = new QToolButton(&window);
            tool->setCheckable(true);
            *button = tool;
        }
        showErrors->setChecked(true);
        showInfo->setChecked(true);
        autoRefreshButton->setChecked(true);
        for (QAbstractButton** box : {&colourBox, &autoRefreshBox, &scrollToBottomBox, &wordWrapBox})
            *box = new QCheckBox(&window);
        colourBox->setChecked(true);
        autoRefreshBox->setChecked(true);
        slider = new QSlider(&window);
        slider->setRange(1, 10);
        slider->setValue(2);
        StatusPanels::Labels labels{};
        for (QLabel*& label : labels)
            label = new QLabel(&window);
        status = std::make_unique<StatusPanels>(labels);
        colouring = new Colouring(showErrors, showInfo, colourBox, &window);
        FollowerControls controls;
        controls.autoRefreshButton = autoRefreshButton;
        controls.autoRefreshBox = autoRefreshBox;
        controls.gotoBottomButton = gotoBottomButton;
        controls.scrollToBottomBox = scrollToBottomBox;
        controls.unicodeButton = unicodeButton;
        controls.wordWrapBox = wordWrapBox;
        controls.intervalSlider = slider;
        follower = new LogController(&window, &window, view1, colouring, status.get());
        follower->bindControls(controls);
        // Ticks come from the test alone: no timer, no change notifications.
        follower->watchTimer()->stop();
        follower->setFollowInstantly(false);
        window.resize(600, 400);
    }

    // Runs the watcher's tick, as its timer would, and waits for the source's answer.
    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            follower->onWatchTick();
            settle();
        }
    }

    // Waits until the source has answered every request and no request waits.
    void settle() const
    {
        QTRY_VERIFY_WITH_TIMEOUT(!follower->busy(), 60000);
    }

    std::string shownText() const { return follower->view()->text(); }

    QWidget window;
    LogView* view1 = nullptr;
    QAbstractButton* showErrors = nullptr;
    QAbstractButton* showInfo = nullptr;
    QAbstractButton* colourBox = nullptr;
    QAbstractButton* unicodeButton = nullptr;
    QAbstractButton* autoRefreshButton = nullptr;
    QAbstractButton* autoRefreshBox = nullptr;
    QAbstractButton* gotoBottomButton = nullptr;
    QAbstractButton* scrollToBottomBox = nullptr;
    QAbstractButton* wordWrapBox = nullptr;
    QSlider* slider = nullptr;
    std::unique_ptr<StatusPanels> status;
    Colouring* colouring = nullptr;
    LogController* follower = nullptr;
};

} // namespace tlg::testing
