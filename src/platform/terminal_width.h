// How wide the terminal on stderr is, so that rows redrawn in place never wrap.
#pragma once

// Its width in columns; 0 when stderr is no terminal or the terminal does not say.
int ErrorColumns();
