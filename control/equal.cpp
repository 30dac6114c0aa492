// implementation lands with its library
