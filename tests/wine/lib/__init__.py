"""Helpers of the Wine test runner: prefixes, registry files, shell links,
the driver's log and the checks."""
