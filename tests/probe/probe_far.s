# Accesses with the largest constant offset an instruction can carry
# (0xFFFFFFFF), which C cannot express: with a 32-bit address they reach up
# to 8 GiB - 2 past the memory's base, the far end of its reservation.

	.text

# Reads the byte at `addr` + 0xFFFFFFFF.
	.globl	load8_far
	.type	load8_far,@function
	.export_name	load8_far, load8_far
load8_far:
	.functype	load8_far (i32) -> (i32)
	local.get	0
	i32.load8_u	4294967295
	end_function

# Writes the 64-bit `value` at `addr` + 0xFFFFFFFF (eight bytes).
	.globl	store64_far
	.type	store64_far,@function
	.export_name	store64_far, store64_far
store64_far:
	.functype	store64_far (i32, i64) -> ()
	local.get	0
	local.get	1
	i64.store	4294967295
	end_function
