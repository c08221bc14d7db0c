#pragma once

// The open log on its own: a tab (its bare view, presenter and watcher), the switches that
// drive it, the colouring switches and a status bar of four labels, with no main window around
// them. Ticks are run by hand, and each waits until the log has answered.

#include "app/logpresenter.h"
#include "app/logtab.h"
#include "app/switchbinding.h"
#include "core/statuspanels.h"
#include "format/colouring.h"
#include "source/filelog.h"
#include "source/follower.h"
#include "source/logopening.h"
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
        tab = new LogTab(&window, nullptr, colouring, &window);
        tab->status().show(labels);
        QObject::connect(colouring, &Colouring::rulesChanged, tab->presenter(), &LogPresenter::showRulesNow);
        tab->presenter()->showRulesNow();
        binding = new SwitchBinding(&window,
                                    {autoRefreshButton, autoRefreshBox, gotoBottomButton, scrollToBottomBox,
                                     unicodeButton, wordWrapBox},
                                    &window);
        binding->bind(tab);
        QObject::connect(slider, &QSlider::valueChanged, tab->follower(), &Follower::setIntervalSeconds);
        // Ticks come from the test alone: no timer, no change notices.
        tab->watchTimer()->stop();
        tab->follower()->setFollowInstantly(false);
        window.resize(600, 400);
    }

    // Opens the file at path in the tab, as File > Open does.
    void open(const QString& path) { tab->open(MakeLogAt(path, OpenWay::Chosen)); }
    FileLog* fileLog() const { return qobject_cast<FileLog*>(tab->log()); }
    LogView* view() const { return tab->view(); }

    // Runs the watcher's tick, as its timer would, and waits for the log's answer.
    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            tab->follower()->tick();
            settle();
        }
    }

    // Waits until the log has answered every request.
    void settle() const
    {
        QTRY_VERIFY_WITH_TIMEOUT(!tab->log() || (!tab->log()->busy() && tab->opening().isEmpty()), 60000);
    }

    std::string shownText() const { return tab->view()->text(); }

    QWidget window;
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
    LogTab* tab = nullptr;
    SwitchBinding* binding = nullptr;
};

} // namespace tlg::testing
