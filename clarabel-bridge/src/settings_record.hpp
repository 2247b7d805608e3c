// Conversion between DefaultSettings and the bridge's flat settings record.
#pragma once

#include "bridge_abi.h"
#include "clarabel_bridge/clarabel.hpp"

namespace clarabel::detail {

TarvoBridgeSettings to_record(const DefaultSettings& settings);
DefaultSettings from_record(const TarvoBridgeSettings& record);

}  // namespace clarabel::detail
