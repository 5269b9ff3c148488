"""The technician's console for Hostkeeper agents."""
