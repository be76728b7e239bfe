// What the kernel offers to confine a process that runs a module: no new
// privileges (no set-user-ID program it starts can gain any), Landlock's
// ABI, seccomp filters; and the line velt --version reports them in.
#ifndef VELT_KERNEL_LAYERS_H
#define VELT_KERNEL_LAYERS_H

#include <string>

// Sets no_new_privs for this process and its later children; it cannot be
// unset. False when the kernel refuses it.
bool forbid_new_privileges();

// The Landlock ABI this kernel offers, or 0 without Landlock.
int landlock_abi();

// Whether this kernel takes seccomp filters.
bool seccomp_filters_available();

// One line on the layers that guard a run here: the module's sandbox, the
// file grants, and what the kernel applies to every process that runs a
// module (no_new_privs, Landlock's ABI and what it guards, seccomp).
std::string sandbox_layers_text();

#endif
