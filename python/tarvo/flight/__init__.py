"""Flying a planned landing: closed-loop guidance that re-plans under execution and
knowledge errors (`fly`, `Flight`, `FlightErrors`)."""
