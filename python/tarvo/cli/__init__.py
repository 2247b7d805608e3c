"""The `tarvo` command line: one landing, and the `monte-carlo` study command."""
