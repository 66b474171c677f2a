// Filled in by the next commit.
