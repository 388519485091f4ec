# Bus libraries for the broker. Filled in with the real/stand-in choice by the
# bus work; until then the broker does not link any bus library.
add_library(powerbank_bus INTERFACE)
