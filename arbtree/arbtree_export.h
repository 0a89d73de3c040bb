// Symbol visibility of the shared vocabulary (header-only, used by every component).
//
// The vocabulary is compiled into each component that includes it. Its classes keep default
// visibility so that every component and the host agree on one vtable and one type_info per
// class: a dynamic_cast from a host object to a tree:: interface must work in any library.
#pragma once

#define ARBTREE_API __attribute__((visibility("default")))
