# The module's shadow-stack pointer for the host: set (n), allocate (o) and
# get (p). The pointer is the linker's __stack_pointer global.

	.globaltype	__stack_pointer, i32

	.text

	.globl	set_stack_pointer
	.type	set_stack_pointer,@function
	.export_name	set_stack_pointer, n
set_stack_pointer:
	.functype	set_stack_pointer (i32) -> ()
	local.get	0
	global.set	__stack_pointer
	end_function

# Moves the stack pointer down by `size` bytes and to a multiple of 16;
# returns the new stack pointer.
	.globl	stack_allocate
	.type	stack_allocate,@function
	.export_name	stack_allocate, o
stack_allocate:
	.functype	stack_allocate (i32) -> (i32)
	.local	i32
	global.get	__stack_pointer
	local.get	0
	i32.sub
	i32.const	-16
	i32.and
	local.tee	1
	global.set	__stack_pointer
	local.get	1
	end_function

	.globl	get_stack_pointer
	.type	get_stack_pointer,@function
	.export_name	get_stack_pointer, p
get_stack_pointer:
	.functype	get_stack_pointer () -> (i32)
	global.get	__stack_pointer
	end_function
