// One named SDP text of the user's SDP list, as the SDP dialogs edit it.
#pragma once

#include <string>

namespace fennik {

struct SdpText {
  std::string title;
  std::string body;
};

}  // namespace fennik
