#include "launcher/launcher_state.h"

LauncherState& launcherState() {
    static LauncherState state;
    return state;
}
