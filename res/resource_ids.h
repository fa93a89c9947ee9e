// Resource IDs shared by the resource script and the program.
#pragma once

#define IDI_FERNQUILL 101
