#pragma once

// Small builders for the controls that several windows and panels share.

#include <QString>

class QCheckBox;
class QFrame;
class QToolButton;
class QWidget;

namespace tlg {

// A check box with its design name as object name.
QCheckBox* makeCheckBox(QWidget* parent, const char* name, const QString& caption, bool checked);

// A blue caption bar with bold white text and a flat "X" button at its right end, which
// *button receives.
QFrame* makeCaptionBar(QWidget* parent, const char* name, const QString& caption,
                       const char* buttonName, QToolButton** button);

} // namespace tlg
