// For tests only: makes the host itself misbehave right after it is
// confined, as a fault in host code taken over by a hostile input would, to
// show that the kernel stops it. VELT_TEST_HOST_FAULT="ROLE:ACTION[:PATH]"
// picks the process (its policy's fault role: velt-encode, encode, worker,
// compare) and the action:
//   read:PATH    open PATH for reading
//   write:PATH   create PATH for writing (beside the output, say)
//   socket       make a TCP socket and connect it to port 9 of this machine
//   exec:PATH    run the program PATH
//   signal-parent  send SIGTERM to the parent process
// An action the kernel refuses ends the process with status 70 after one
// line naming it and the refusal; one it lets through ends it with status
// 71 ("not stopped"); a call the system-call filter stops ends it as any
// stopped call does.
#ifndef VELT_HOST_FAULT_SWITCH_H
#define VELT_HOST_FAULT_SWITCH_H

extern const char kHostFaultVariable[];

enum { HOST_FAULT_REFUSED = 70, HOST_FAULT_NOT_STOPPED = 71 };

// Acts out the fault VELT_TEST_HOST_FAULT asks of `role`, if any (then never
// returns); `program` names the process in its line.
void act_out_host_fault(const char* role, const char* program);

#endif
