"""Simulated storage appliance answering the XML management API over HTTP."""
