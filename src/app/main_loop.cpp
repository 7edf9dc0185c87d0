namespace veska {}  // namespace veska
