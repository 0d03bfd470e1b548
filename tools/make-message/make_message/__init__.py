"""make-message: turns video and speech into the two clips a Clipnote player carries."""
