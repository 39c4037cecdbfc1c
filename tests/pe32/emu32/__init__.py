"""The pe32 leg's emulation of the shipped 32-bit module (see ../pe32.py)."""
