#pragma once
// BoxResponder: answers the boxes that open inside whatever a test does, without blocking the
// modal loops they run in. Every 10 ms a newly shown PromptBoxDialog or MessageBoxDialog is
// confirmed and its text kept, then onLook runs for the test's own windows.

#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "WindowTestSupport.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

class BoxResponder {
public:
    BoxResponder()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            Confirm<PromptBoxDialog>();
            Confirm<MessageBoxDialog>();
            if (onLook)
                onLook();
        });
        timer_.start(10);
    }
    QStringList texts;
    std::function<void()> onLook;

private:
    template <class Box>
    void Confirm()
    {
        if (auto* box = VisibleWindow<Box>(); box && box != lastBox_) {
            lastBox_ = box;
            texts.push_back(box->template FindControl<QLabel>("msgText")->text());
            QTest::mouseClick(box->template FindControl<QPushButton>("msgConfirm"), Qt::LeftButton);
        }
    }
    QTimer timer_;
    QPointer<QWidget> lastBox_;
};
