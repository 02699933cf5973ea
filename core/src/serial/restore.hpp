// Elements rebuilt from the fields a serialized form stores.
#pragma once

#include "quorvel/element.hpp"

namespace quorvel {

// An element given by its stored fields (as read back from serialized data), accepted only if
// the constructor of its kind could have made it: the given fields pass that constructor's
// checks, and every field it derives (profile peaks and supports, mapped supports) is derived
// again by the same code. A mapped element keeps its inner element shared. The segment table of
// a Shape is checked by the caller (check_segments), once per shared table.
Result<Element> restore_element(const Element& stored);

} // namespace quorvel
