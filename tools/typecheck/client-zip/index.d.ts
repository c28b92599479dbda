export * from 'client-zip';
