// The two erase buttons: the whole flash, and the user data area that the
// chip's own partition record names.
#pragma once

#include "link/link.h"

namespace corvel::program {

// Each returns true when every command was answered with success.
bool EraseChip(link::Link& link);
bool EraseUserArea(link::Link& link);

}  // namespace corvel::program
