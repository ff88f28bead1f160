// The project's web address: opened by the "More" link and named in the program file's
// version block. Plain preprocessor text, so that the resource compiler can read it too.
#pragma once

#define CORVANE_WEB_ADDRESS "https://corvane.example/"
