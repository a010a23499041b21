// Where the keyboard focus is in a list: a dotted rectangle around the entry
// the arrow keys move from.
#pragma once

class QAbstractItemView;

namespace platform {

// Draws the focus rectangle over `view`'s viewport when the view has the
// focus: around the current entry, or around the first one when there is
// none yet (the first arrow key starts there), or inside the empty list.
// Whatever the style draws itself, this one shows over a selected entry too
// and also when the focus came with a click.
void PaintListFocus(QAbstractItemView& view);

}  // namespace platform
