# The Windows program is added with the Win32 backend.
