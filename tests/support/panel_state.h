// The panel's idle and connected states as a view shows them, held against the one table of
// them (kPanelStates), for every view under test: the window logic's recording view, the Qt
// window and the Win32 window.
#pragma once

#include "form_view.h"

#include <functional>
#include <string>

// "" when every control that Connect and Disconnect switch is enabled as kPanelStates says for
// `connected`, else the ones that are not ("Connect is enabled; COMGroup item 1 is disabled").
// `enabled` reads one control of the view (item -1) or one item of a radio group (item 0 and 1: a
// group's items are switched with it).
inline std::string PanelStateMismatch(bool connected,
                                      const std::function<bool(TControlId id, int item)>& enabled) {
    std::string wrong;
    for (const TPanelState& state : kPanelStates) {
        const TControlDesc& desc = kPanelControls[state.id];
        const bool want = connected ? state.connected : state.idle;
        for (int item = -1; item < (desc.kind == ckRadioGroup ? 2 : 0); ++item) {
            if (enabled(state.id, item) == want) continue;
            const std::string name =
                item < 0 ? desc.name : std::string(desc.name) + " item " + std::to_string(item);
            wrong += (wrong.empty() ? "" : "; ") + name + (want ? " is disabled" : " is enabled");
        }
    }
    return wrong;
}
