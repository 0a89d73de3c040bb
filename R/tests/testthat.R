library(testthat)
library(treexport)

test_check("treexport")
