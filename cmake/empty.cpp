// Placeholder for a subsystem that has no source file yet.
