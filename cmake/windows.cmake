# Windows build: adapters, quorvane.exe and the Windows test program (written with the adapters).
