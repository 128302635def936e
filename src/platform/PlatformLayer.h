#pragma once

// Every header of this folder includes this one first. The window-free core is compiled with
// QHS_CORE_LAYER, so a core source that reaches a Linux implementation, however indirectly,
// does not compile: the core sees the interfaces it owns, never what implements them.
#ifdef QHS_CORE_LAYER
#error "qhs_core must not include platform headers; give the core an interface of its own"
#endif
