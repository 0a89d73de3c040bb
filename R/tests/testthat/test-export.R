# Export through the treexport command (TREEXPORT_COMMAND, the PATH, or a build of the
# repository); skipped where there is none. The documents themselves are checked end to end by
# the repository's tests/e2e.

library(rpart)

command_or_skip <- function() {
  command <- tryCatch(treexport_command(), error = function(e) "")
  if (!nzchar(command)) skip("no treexport command (set TREEXPORT_COMMAND)")
  command
}

test_that("paths with spaces and quotes reach the command as they are", {
  command <- command_or_skip()
  dir <- file.path(tempfile(), "a dir with 'quotes' and spaces")
  dir.create(dir, recursive = TRUE)
  on.exit(unlink(dirname(dir), recursive = TRUE))
  linked <- file.path(dir, "tree export")
  file.symlink(normalizePath(command), linked)
  old <- options(treexport.command = linked)
  on.exit(options(old), add = TRUE)
  target <- file.path(dir, "-kyphosis \"one\".xml")
  write_tree_xml(rpart(Kyphosis ~ ., kyphosis), target)
  expect_true(any(grepl("<ClsTree>", readLines(target, warn = FALSE), fixed = TRUE)))
})

test_that("a failed export names the cause and leaves the existing file as it was", {
  command_or_skip()
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  target <- file.path(dir, "kept.pmml")
  writeLines("earlier", target)
  expect_error(write_pmml(rpart(Ozone ~ ., airquality, method = "poisson"), target),
               "method \"poisson\"", class = "treexport_refusal")
  expect_error(write_pmml(rpart(Kyphosis ~ ., kyphosis), file.path(dir, "no", "such", "x.pmml")),
               "treexport pmml failed (exit status 3)", fixed = TRUE,
               class = "treexport_export_error")
  expect_error(write_pmml(rpart(Kyphosis ~ ., kyphosis), target, portable = NA),
               "portable must be TRUE or FALSE")
  expect_identical(readLines(target), "earlier")
  expect_identical(list.files(dir), "kept.pmml")
})

test_that("the command is the one TREEXPORT_COMMAND or the option names, or an error", {
  old <- options(treexport.command = NULL)
  previous <- Sys.getenv("TREEXPORT_COMMAND", unset = NA)
  not_executable <- tempfile()
  script <- tempfile()
  on.exit({
    options(old)
    if (is.na(previous)) Sys.unsetenv("TREEXPORT_COMMAND")
    else Sys.setenv(TREEXPORT_COMMAND = previous)
    unlink(c(not_executable, script))
  })
  writeLines("", not_executable)
  writeLines("#!/bin/sh\nexit 0", script)
  Sys.chmod(script, "755")
  Sys.setenv(TREEXPORT_COMMAND = not_executable)
  expect_error(treexport_command(), "(from TREEXPORT_COMMAND) is not an executable file",
               fixed = TRUE)
  options(treexport.command = script)
  expect_identical(treexport_command(), script)
})
