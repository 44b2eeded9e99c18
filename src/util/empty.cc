// Keeps a library that is still all headers a valid static library.
