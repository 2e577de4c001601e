# How well the tail approximation can do at best: B maxima drawn from a known
# distribution (the largest of 190 chi-square(2) statistics, an exponential tail), their
# N_exc = B / 4 largest fitted with evd::fpot at the threshold halfway to the next, and
# the tail p-value (N_exc / B)(1 - F(t - u)) compared with the true one at 1e-2, 1e-3 and
# 1e-4; 200 draws each. No goodness-of-fit refit: the best case of the procedure.
#   Rscript bench/tail_ideal.R [B]        (B default 200; needs r-cran-evd)
suppressMessages(library(evd))
args <- commandArgs(trailingOnly = TRUE)
B <- if (length(args) > 0) as.integer(args[1]) else 200
ne <- min(250, B %/% 4)
set.seed(1)
levels <- c(1e-2, 1e-3, 1e-4)
within <- na <- total <- c(0, 0, 0)
for (rep in 1:200) {
  x <- replicate(B, max(rchisq(190, 2)))
  s <- sort(x, decreasing = TRUE)
  u <- (s[ne] + s[ne + 1]) / 2
  f <- tryCatch(fpot(x, threshold = u, std.err = FALSE), error = function(e) NULL)
  if (is.null(f)) next
  sc <- f$estimate[["scale"]]
  sh <- f$estimate[["shape"]]
  for (i in 1:3) {
    t <- -2 * log(1 - (1 - levels[i])^(1 / 190))  # P(largest of 190 >= t) = levels[i]
    y <- t - u
    z <- 1 + sh * y / sc
    tail <- if (abs(sh) < 1e-12) exp(-y / sc) else if (z <= 0) 0 else z^(-1 / sh)
    p <- ne / B * tail
    total[i] <- total[i] + 1
    if (p == 0) na[i] <- na[i] + 1 else if (p / levels[i] >= 0.5 && p / levels[i] <= 2) within[i] <- within[i] + 1
  }
}
for (i in 1:3) cat(sprintf("B = %d, true p %g: within a factor of 2 %d of %d, beyond the fitted tail %d\n",
                           B, levels[i], within[i], total[i], na[i]))
