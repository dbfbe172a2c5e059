// Placeholder so the runtime library has a source until its parts land.
