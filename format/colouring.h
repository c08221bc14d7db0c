#pragma once

// The colouring switches and the rules they give: "Color Text(format)" (CheckBox6) turns
// colouring on and off, "Show Errors" (ToolButton1) and "Show warnings" (ToolButton2) gate each
// colour, and the format editor's columns hold the labels.

#include "search/colourrules.h"

#include <QObject>

#include <memory>

class QAbstractButton;

namespace tlg {

class FormatEditor;

class Colouring : public QObject {
    Q_OBJECT

public:
    // The three switches stay the window's; the colouring connects the colour switch's click.
    Colouring(QAbstractButton* showErrorsButton, QAbstractButton* showInfoButton,
              QAbstractButton* colourBox, QObject* parent);

    // The labels come from the editor once it exists; before that, and without one, no label
    // colours anything.
    void setFormatEditor(const FormatEditor* editor) { m_editor = editor; }

    // Colouring is switched on.
    bool colouringOn() const;
    // The labels and gates of this moment, fixed for a colouring pass: later edits show at the
    // next pass.
    std::shared_ptr<const ColourRules> rules() const;

signals:
    // A switch changed: the rules of now differ from those of a moment ago.
    void rulesChanged();

public slots:
    // CheckBox6Click: the colouring box switched off greys the gates and leaves them as they
    // are (the watcher then shows plain text); switched on, it sets both gates again.
    void setGatesFromColourBox();

private:
    QAbstractButton* m_showErrorsButton; // ToolButton1
    QAbstractButton* m_showInfoButton;   // ToolButton2
    QAbstractButton* m_colourBox;        // CheckBox6
    const FormatEditor* m_editor = nullptr;
};

} // namespace tlg
