#include "framework/row_layout.h"

#include <algorithm>

namespace fw {

namespace {
// Design pixels: a label's room beyond its text, the gap between the label
// and its control, the room an edit's border and margins take beyond a line
// of text, a check box's box and the gap after it, and the gaps below a
// title and between rows.
constexpr int kLabelSlack = 2, kColumnGap = 10, kEditPadding = 8, kCheckBox = 13, kCheckGap = 6;
constexpr int kTitleGap = 10, kRowGap = 8;

SIZE labelSize(const TForm& form, const TControl* label) {
    return {label->TextSize().cx + form.Scale(kLabelSlack), LineHeight(label->Handle())};
}
}  // namespace

void TRowLayout::AddTitle(TControl* label) { rows_.push_back({Kind::Title, label, nullptr, 0, nullptr}); }

void TRowLayout::AddRow(TControl* label, TControl* control, int width, TControl* companion) {
    rows_.push_back({Kind::Row, label, control, width, companion});
    control->Label = label;
    control->TabOrder = nextTabOrder_++;
    if (companion) companion->TabOrder = nextTabOrder_++;
}

void TRowLayout::AddCheck(TControl* box) {
    rows_.push_back({Kind::Check, nullptr, box, 0, nullptr});
    box->TabOrder = nextTabOrder_++;
}

SIZE TRowLayout::Place(const TForm& form, int left, int top) const {
    int labelColumn = 0;
    for (const Row& r : rows_)
        if (r.kind == Kind::Row) labelColumn = std::max<int>(labelColumn, labelSize(form, r.label).cx);
    const int controlLeft = left + labelColumn + form.Scale(kColumnGap);
    int right = left, y = top;
    const Row* above = nullptr;
    for (const Row& r : rows_) {
        // A hidden row gives its place to the rows below it.
        if (!r.control->Visible() && r.kind != Kind::Title) continue;
        if (above) y += form.Scale(above->kind == Kind::Title ? kTitleGap : kRowGap);
        above = &r;
        int height = 0;
        if (r.kind == Kind::Title) {
            const SIZE s = labelSize(form, r.label);
            r.label->SetBounds(left, y, s.cx, s.cy);
            right = std::max<int>(right, left + s.cx);
            height = s.cy;
        } else if (r.kind == Kind::Check) {
            const int line = LineHeight(r.control->Handle());
            const int width = form.Scale(kCheckBox + kCheckGap) + r.control->TextSize().cx + form.Scale(kLabelSlack);
            height = std::max(line, form.Scale(kCheckBox)) + form.Scale(4);
            r.control->SetBounds(controlLeft, y, width, height);
            right = std::max(right, controlLeft + width);
        } else {
            const int width = form.Scale(r.width);
            // An edit is as tall as a line of its text and its margins; a
            // drop-down list sizes its own field to its font, and the
            // height given to it is that of the opened list.
            const bool list = dynamic_cast<const TComboBox*>(r.control) != nullptr;
            r.control->SetBounds(controlLeft, y, width,
                                 list ? form.Scale(120) : LineHeight(r.control->Handle()) + form.Scale(kEditPadding));
            const RECT placed = r.control->BoundsRect();
            height = placed.bottom - placed.top;
            int rowRight = controlLeft + width;
            if (r.companion) {
                const int arrows = form.Scale(12);
                r.companion->SetBounds(rowRight, y, arrows, height);
                rowRight += arrows;
            }
            const SIZE s = labelSize(form, r.label);
            r.label->SetBounds(left, y + (height - s.cy) / 2, s.cx, s.cy);
            right = std::max(right, rowRight);
        }
        y += height;
    }
    return {right - left, y - top};
}

}  // namespace fw
