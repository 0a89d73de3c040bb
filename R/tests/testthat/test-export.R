# Export through the treexport command (TREEXPORT_COMMAND, the PATH, or a build of the
# repository); skipped where there is none.

library(rpart)

command_or_skip <- function() {
  command <- tryCatch(treexport_command(), error = function(e) "")
  if (!nzchar(command)) skip("no treexport command (set TREEXPORT_COMMAND)")
  command
}

test_that("write_pmml and write_tree_xml write the command's documents of the tree", {
  command_or_skip()
  fit <- rpart(Kyphosis ~ ., kyphosis)
  dir <- tempfile()
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  pmml <- file.path(dir, "kyphosis.pmml")
  expect_identical(write_pmml(fit, pmml), pmml)
  document <- readLines(pmml, warn = FALSE)
  # Elements of the document: each one's name on its own line (attributes follow on theirs).
  elements <- trimws(document[grepl("^\\s*<[A-Za-z]", document)])
  elements <- sub("^<([A-Za-z-]+).*", "\\1", elements)
  expect_identical(elements[1], "PMML")
  expect_true("TreeModel" %in% elements)
  expect_true(any(grepl("name=\"Kyphosis\"", document, fixed = TRUE)))
  # One Node element per row of rpart's frame.
  expect_equal(sum(elements == "Node"), nrow(fit$frame))

  xml <- file.path(dir, "kyphosis.xml")
  write_tree_xml(fit, xml)
  document <- readLines(xml, warn = FALSE)
  expect_equal(sum(grepl("^\\s*<(ClsNode|ClsTerminalNode)\\b", document)), nrow(fit$frame))
})

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
  expect_identical(readLines(target), "earlier")
  expect_error(write_pmml(rpart(Kyphosis ~ ., kyphosis), target, portable = NA),
               "portable must be TRUE or FALSE")
  expect_identical(readLines(target), "earlier")
})

test_that("portable = TRUE asks the command for the portable profile", {
  command <- command_or_skip()
  help <- suppressWarnings(system2(command, c("pmml", "--help"), stdout = TRUE, stderr = TRUE))
  if (!any(grepl("--portable", help, fixed = TRUE))) skip("this treexport has no --portable")
  fit <- rpart(Kyphosis ~ ., kyphosis)
  path <- tempfile(fileext = ".pmml")
  on.exit(unlink(path))
  write_pmml(fit, path, portable = TRUE)
  document <- readLines(path, warn = FALSE)
  expect_match(document[1], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", fixed = TRUE)
  expect_true(any(grepl("probability=\"", document, fixed = TRUE)))
})

test_that("the command is the one TREEXPORT_COMMAND or the option names, or an error", {
  old <- options(treexport.command = NULL)
  on.exit(options(old))
  withr_env <- function(value, code) {
    previous <- Sys.getenv("TREEXPORT_COMMAND", unset = NA)
    Sys.setenv(TREEXPORT_COMMAND = value)
    on.exit(if (is.na(previous)) Sys.unsetenv("TREEXPORT_COMMAND")
            else Sys.setenv(TREEXPORT_COMMAND = previous))
    code
  }
  not_executable <- tempfile()
  writeLines("", not_executable)
  on.exit(unlink(not_executable), add = TRUE)
  withr_env(not_executable, expect_error(treexport_command(),
                                         "(from TREEXPORT_COMMAND) is not an executable file",
                                         fixed = TRUE))
  script <- tempfile()
  writeLines("#!/bin/sh\nexit 0", script)
  Sys.chmod(script, "755")
  on.exit(unlink(script), add = TRUE)
  options(treexport.command = script)
  withr_env(not_executable, expect_identical(treexport_command(), script))
})
