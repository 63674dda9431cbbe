/* libtesk.so of the staged runtime: the launcher only tests that it exists, so it holds nothing. */
