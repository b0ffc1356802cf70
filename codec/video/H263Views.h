// Field rows of the H.263 views: the picture layer of one picture header (the information
// view's "Picture layer" node and `fennik-cli show`).
#pragma once

#include "codec/video/H263Syntax.h"

namespace fennik {

class CFieldTree;

// The picture header's fields in bitstream order, each with its bit count, value and value
// name; `ok` false adds a row saying the header could not be read completely.
void PrintH263PictureHeader(const H263PictureHeader& h, bool ok, CFieldTree& tree);

}  // namespace fennik
