#pragma once
// Rows of controls laid out from measured text: a label beside its control
// (all labels in one column as wide as the widest label in the font the
// form uses now), a check box in the control column, or a title across both.
// Lengths are of the 96-DPI design and scale with the form's DPI; heights
// come from the font, so a stand-in font of other widths still fits.
#include <windows.h>

#include <vector>

#include "framework/forms.h"

namespace fw {

class TRowLayout {
public:
    // Tab order of the first control added; each control added takes the next.
    explicit TRowLayout(int firstTabOrder) : nextTabOrder_(firstTabOrder) {}

    // A label on a line of its own.
    void AddTitle(TControl* label);
    // `label` beside `control`, which is `width` design pixels wide;
    // `companion` (the arrows of an edit) sits right against the control.
    void AddRow(TControl* label, TControl* control, int width, TControl* companion = nullptr);
    // A check box in the control column, as wide as its box and caption.
    void AddCheck(TControl* box);

    // Places every row whose control is visible (WS_VISIBLE), the first at (left, top) of the controls' parent,
    // in pixels; returns the width and height the rows take.
    SIZE Place(const TForm& form, int left, int top) const;

private:
    enum class Kind { Title, Row, Check };
    struct Row {
        Kind kind;
        TControl* label;
        TControl* control;
        int width;
        TControl* companion;
    };
    std::vector<Row> rows_;
    int nextTabOrder_;
};

}  // namespace fw
