// QtProfileStore is header-only so that programs without widgets can use it.
#include "ui/qt_profile_store.h"
